#include "FileCommands.h"
