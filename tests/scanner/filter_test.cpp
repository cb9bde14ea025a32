#include "scanner/port_scanner.h"

#include <gtest/gtest.h>
