#include <cstdio>

int main(int argc, char** argv)
{
    (void)argc;
    (void)argv;
    std::fprintf(stderr, "usage: zarumatekit-probe --adapters\n");
    return 2;
}
