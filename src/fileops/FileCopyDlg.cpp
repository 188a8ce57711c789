#include "FileCopyDlg.h"
