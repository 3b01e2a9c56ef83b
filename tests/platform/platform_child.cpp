// Child program of the platform tests: writes its arguments after the first,
// joined by '|', and "done" into the file its first argument names.
#include <cstdio>
#include <string>

int main(int argc, char **argv) {
    if (argc < 2) {
        return 2;
    }
    std::string path = argv[1];
    for (char &c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    FILE *out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        std::fprintf(out, "%s|", argv[i]);
    }
    std::fprintf(out, "done\n");
    std::fclose(out);
    return 0;
}
