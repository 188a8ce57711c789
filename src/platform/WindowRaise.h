#pragma once

class QWidget;

// Brings a top-level window forward for the user: shown again when minimised (as it was
// before, maximised or not), raised above the others and given the focus.
void BringWindowForward(QWidget* window);
