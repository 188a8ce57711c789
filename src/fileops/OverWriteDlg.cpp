#include "OverWriteDlg.h"
