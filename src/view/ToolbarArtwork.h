#pragma once

#include "CommandRules.h"

#include <QIcon>

// The toolbar's own pictures, drawn as vector shapes at whatever size and
// device pixel ratio they are shown (16×16 logical on the toolbar), so they stay
// sharp on any screen and never look like another command's picture: scissors
// for cut, the eject symbol, the recorder with an arrow for the transfer from it.
namespace ToolbarArtwork {

// The drawn picture of a command; a null icon for a command without one.
QIcon icon(Command command);

} // namespace ToolbarArtwork
