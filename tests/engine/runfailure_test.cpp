// Runs that meet bad input, write failures, stops, and what their progress events carry.
#include <gtest/gtest.h>
