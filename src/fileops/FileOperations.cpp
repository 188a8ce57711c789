#include "FileOperations.h"
