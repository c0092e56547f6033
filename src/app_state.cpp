#include "app_state.h"

// Static initial values: the settings hold them before any code of the program runs.
AppState appState;
