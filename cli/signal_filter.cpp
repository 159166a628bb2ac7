// Signal selection for decoding: names become element identifiers become a filter.
#include "signal_filter.h"

#include "failure.h"

namespace vexo::cli {

FilterHandle makeSignalFilter(const Network &network, const std::vector<std::string> &names)
{
    if (names.empty())
        throw UsageError("no signal names given");
    // Identifiers one after the other, each with its zero unit, and an empty one at the end.
    std::u16string ids;
    for (const std::string &name : names) {
        const std::vector<const SignalInfo *> signals = network.findSignals(name);
        if (signals.empty())
            throw Failure("unknown signal " + name + " (not in " + network.path() + ")");
        for (const SignalInfo *signal : signals) {
            const VexoChar *id = nullptr;
            if (Vexo_getElementId(signal->node, &id) != S_OK || id == nullptr)
                throw Failure("signal " + name + " has no element identifier to select it by");
            ids += id;
            ids += u'\0';
        }
    }
    ids += u'\0';
    VexoFilter *filter = nullptr;
    if (Vexo_createIdListFilterW(network.database(), 0, ids.c_str(), &filter) != S_OK)
        throw Failure("out of memory");
    return FilterHandle(filter);
}

}  // namespace vexo::cli
