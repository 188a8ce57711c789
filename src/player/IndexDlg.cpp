#include "IndexDlg.h"
