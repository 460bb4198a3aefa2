// Sample data: a company filled with plausible Spanish data (salespeople,
// products with prices, marketing plans, responses, prospects with products
// offered, contacts with next visits, and sales), so that a new user sees
// every report and chart with something in it, and so that tests and
// benchmarks share one generator. The same seed gives the same data.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace data {

struct DemoOptions {
    int prospects = 200;
    uint32_t seed = 20261209;
    // Day the data is built around (julian day; 0 = today): prospects are
    // created in the two years before it, next visits fall in the sixty days
    // after it.
    int32_t today = 0;
    // Told about each table as it is filled (Windows-1252 text).
    std::function<void(const std::string&)> progress;
};

struct DemoCounts {
    int salespeople = 0, products = 0, plans = 0, responses = 0;
    int prospects = 0, offered = 0, contacts = 0, sold = 0;
};

// Fills the company tables of the directory `camino` ("EMP00001\"), which
// must exist with its tables (as a new company or `vdrtool install` leaves
// them), then rebuilds the company's bags. Throws std::runtime_error with a
// Spanish message, writing nothing, when the company already holds prospects
// or its tables are missing. Tables are written opened exclusively.
DemoCounts fillDemoCompany(const std::string& camino, const DemoOptions& options = {});

}  // namespace data
