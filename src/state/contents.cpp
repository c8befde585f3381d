#include "state/contents.h"
