#pragma once

#include <tallyfox/JsonValues.h>
