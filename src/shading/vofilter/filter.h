// The sampling filters (vofilter, module 98): the module record, the typed
// method records of pulse generators and reconstructions, and the filter
// pair the vxs_filter class hands the shader kernel.
//
// Invariants a reader must know:
// - every worker shares the one record (its context copy is the record
//   itself); the only per-thread word is the hook's re-entry guard, kept in
//   thread-local storage so that one worker's hook call never blanks
//   another's answer;
// - a generator's or reconstruction's methods come from its enumerator
//   when it is made; its data belongs to it and goes with its destroy
//   method.
#pragma once

#include <vo/vo_shader.h>

#include "kernel/vosystem/face.h"

namespace vo::filter {

constexpr uint32_t kTagPairs = 0x620001, kTagGenerators = 0x620002, kTagReconstructors = 0x620003;
constexpr int32_t kMostCount = 256;  // samples across or down a pixel

using EnumerateProc = VtStatus (*)(uint32_t index, VtTypedValue *method);
using CreateProc = VtStatus (*)(void **data);
using DataProc = VtStatus (*)(void *data);
using ContextProc = VtStatus (*)(void *data, VtShadeContext *context);
using FinishedProc = uint32_t (*)(void *data);
using PropertyGetProc = VtStatus (*)(void *data, uint32_t index, VtTypedValue *value);
using PropertySetProc = VtStatus (*)(void *data, uint32_t index, const VtTypedValue *value);
// A point-in-polygon map: 0 when the context's sample lies inside the ring.
using MapProc = VtStatus (*)(VtShadeContext *context, VtShadeContextReference *ring);

struct VtPulseGenerator {
  EnumerateProc enumerate;
  CreateProc create;
  DataProc destroy;
  DataProc start;
  ContextProc next;
  FinishedProc finished;
  PropertyGetProc get;  // null when the enumerator has none
  PropertySetProc set;
  void *data;
};

struct VtReconstructor {
  EnumerateProc enumerate;
  CreateProc create;
  DataProc destroy;
  DataProc start;
  ContextProc add;
  ContextProc finish;
  void *data;
};

struct VtFilterPair {
  VtPulseGenerator *generator;
  VtReconstructor *reconstructor;
  void *unused;
};

struct VtFilterContext {
  VtPool *pairs;
  VtPool *generators;
  VtPool *reconstructors;
  uint32_t enabled;            // control 0x620001
  VtProc shader_callbacks[4];  // 0x50002, 0x50001, 0x50004, 0x50003
  void *(*first_hook)();       // the advanced renderer's 0x200001
  void *(*second_hook)();      // its 0x200002
  void *prepared;              // the first filter instance holding a pair
};

VtFilterContext *State();

// A grid generator or box reconstruction from its pool, made through its
// enumerator; null when the pool is empty or a method is missing.
VtPulseGenerator *GeneratorMake(EnumerateProc enumerate);
VtReconstructor *ReconstructorMake(EnumerateProc enumerate);
void GeneratorDestroy(VtPulseGenerator *g);
void ReconstructorDestroy(VtReconstructor *r);

// Registers the vxs_filter class.
VtStatus FilterClassCreate();
// Gives back the pair of every filter instance still holding one: the
// instances outlive the module (the shader module destroys them after it,
// global filters among them), and the pairs' blocks and their methods'
// data are the module's.
void FilterPairsGiveBack();

}  // namespace vo::filter
