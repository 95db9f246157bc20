#include "app/roads.h"

// Roads that later work fills in; each reports "nothing done".
int run_windowed() { return 1; }
