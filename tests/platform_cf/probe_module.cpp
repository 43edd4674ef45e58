// A tiny loadable module that the bundle tests place inside a bundle folder.
extern "C" __attribute__((visibility("default"))) int vxProbeAnswer() {
    return 4711;
}
