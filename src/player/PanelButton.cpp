#include "PanelButton.h"
