// Stands in, in the Windows demo package, for a program that a real upgrade package carries (the
// DFU download tool, the driver installers). The demo package has none and says so: it fails
// rather than pretend to have done the work.
#include <cstdio>

int main(int argc, char** argv) {
    std::fprintf(stderr,
                 "%s: placeholder of the demo package; a real upgrade package carries this "
                 "program\n",
                 argc > 0 ? argv[0] : "placeholder");
    return 1;
}
