// The bench's rows for HDR pictures (hdr_rows.cpp).
#pragma once

#include <string>

// Table rows, median of `runs`; "" where a run failed.
std::string HdrRows(const std::string &viewer, int runs);
