#include "paramstate.h"

ParamState gParamState = {nullptr, 0, {-1, nullptr, 0, 0}, 1, 0, {}, {}, {}, 0, 0};
