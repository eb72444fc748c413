#pragma once
// The layering check's own test: a header of the link reaching up into the worker.
#include "device/worker/worker.hpp"
