#include "PanelDisplay.h"
