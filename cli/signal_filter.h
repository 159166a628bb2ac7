// A node filter that selects signals by name, made through Vexo_createIdListFilterW
// from the element identifiers of the signals that carry the names.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "network.h"

namespace vexo::cli {

struct FilterRelease {
    void operator()(VexoFilter *filter) const { Vexo_destroyFilter(filter); }
};
using FilterHandle = std::unique_ptr<VexoFilter, FilterRelease>;

// names: signal names or FRAME.SIGNAL; throws Failure naming the first that matches
// no signal of the database.
FilterHandle makeSignalFilter(const Network &network, const std::vector<std::string> &names);

}  // namespace vexo::cli
