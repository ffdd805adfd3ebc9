// A proxy/stub module of the backend's name that lacks the export the tool
// hands its memory routines to.
extern "C" __attribute__((visibility("default"))) int somethingElse() {
    return 0;
}
