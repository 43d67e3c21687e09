#include "core/machine.h"
#include "program/startup.h"

namespace {
// The machine lives for the whole process, outside the heap.
RunState run_state;
MachineImage machine_image;
}  // namespace

int main(int argc, char** argv) { return quenrik_main(argc, argv, run_state, machine_image); }
