// The kernel's face: the kernel context and its services (callbacks,
// diagnostics, whether a module is started), module state reached through
// the per-thread accessor, module entries, references to live records,
// threads and locks, maths and small vector maths, value types, hash tables, the interface table,
// memory tidying, what the library keeps process-wide (registers of live
// objects, keepers of records) and the diagnostic numbers every module posts. The module
// registry and the system module's own start steps stay the kernel's
// (registry.h).
#pragma once

#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/context.h"
#include "kernel/vosystem/module_entry.h"
#include "kernel/vosystem/reference.h"
#include "kernel/vosystem/threads.h"
#include "kernel/vosystem/maths.h"
#include "kernel/vosystem/vector_maths.h"
#include "kernel/vosystem/value_types.h"
#include "kernel/vosystem/hash_table.h"
#include "kernel/vosystem/api_table.h"
#include "kernel/vosystem/memory_tidy.h"
#include "kernel/vosystem/process_wide.h"
#include "kernel/vosystem/message_numbers.h"
