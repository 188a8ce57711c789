#include "PanelDlg.h"
