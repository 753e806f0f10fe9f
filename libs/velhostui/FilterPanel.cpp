#include "FilterPanel.h"
