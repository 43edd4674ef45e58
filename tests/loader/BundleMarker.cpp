// The binary of the test bundles: it does nothing but sit inside
// NAME.component/Contents/MacOS/ so the platform finds the bundle loaded.
extern "C" __attribute__((visibility("default"))) int vxBundleMarker() {
    return 1;
}
