#include "RenameDlg.h"
