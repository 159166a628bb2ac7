// Ownership tests shared by the model's creation, property and link functions. A
// database owns every node it links; a link to a node of another database would
// dangle once that database is destroyed, so such nodes are refused or skipped.
#pragma once

#include "node_classes.h"

namespace vexo::model {

// True when both nodes carry the same database (timings and records carry none).
inline bool sameDatabase(const void *a, const void *b)
{
    return core::databaseOf(a) == core::databaseOf(b);
}

// True when the node is absent, carries no database, or belongs to this database.
inline bool absentOrOwnedBy(const void *node, const core::Vexo *database)
{
    const core::Vexo *owner = core::databaseOf(node);
    return owner == nullptr || owner == database;
}

// The node as exactly class T when it belongs to the database, else null.
template <class T>
T *exactlyOwned(const void *node, const core::Vexo *database)
{
    T *typed = core::nodeExactly<T>(node);
    return typed != nullptr && typed->database == database ? typed : nullptr;
}

}  // namespace vexo::model
