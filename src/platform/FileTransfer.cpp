#include "FileTransfer.h"
