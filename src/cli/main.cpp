#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tavrio-cli %s\n", TAVRIO_VERSION);
        return 0;
    }
    std::printf("usage: tavrio-cli --help\n");
    return 2;
}
