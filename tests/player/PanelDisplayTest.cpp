// Filled in with the control panel.
