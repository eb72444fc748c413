#pragma once
// The layering check's own test: a model header that reaches up into the device layer.
#include "device/worker.hpp"
