#include "PanelArtwork.h"
