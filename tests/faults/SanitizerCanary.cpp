// A deliberate read one element past a heap block. Built and run only in the
// sanitizer build, where the test passes only when the address sanitizer
// reports the overflow: proof that a read past a buffer fails that build.
#include <cstdio>
#include <cstdlib>

int main(int argc, char**) {
    // The size depends on the arguments, so the compiler cannot see the
    // overflow coming and drop the read.
    const int n = 8 + argc;
    volatile int* block = static_cast<int*>(std::malloc(sizeof(int) * static_cast<size_t>(n)));
    for (int i = 0; i < n; ++i)
        block[i] = i;
    const int past = block[n]; // one past the end
    std::printf("read %d\n", past);
    std::free(const_cast<int*>(block));
    return 0;
}
