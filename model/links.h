// Ownership tests shared by the model's creation, property and link functions. A
// database owns every node it links; a link to a node of another database would
// dangle once that database is destroyed, so such nodes are refused or skipped.
#pragma once

#include "database.h"

namespace vexo::model {

// True when the node belongs to the database of the holder, a node of a database that
// is to link to it. False for null.
inline bool sameDatabase(const void *holder, const void *node)
{
    return core::ownedBy(node, core::databaseOf(holder));
}

// The node as exactly class T when it belongs to the database, else null.
template <class T>
T *exactlyOwned(const void *node, const core::Vexo *database)
{
    T *typed = core::nodeExactly<T>(node);
    return typed != nullptr && core::ownedBy(typed, database) ? typed : nullptr;
}

}  // namespace vexo::model
