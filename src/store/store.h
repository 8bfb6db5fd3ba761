#pragma once

#include "store/dates.h"
#include "store/number.h"
#include "store/ordering.h"
#include "store/rules.h"
#include "store/tables.h"
#include "store/taskfile.h"
