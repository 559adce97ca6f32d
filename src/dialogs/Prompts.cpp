#include "dialogs/Prompts.h"
