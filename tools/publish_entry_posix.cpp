#include "tools/publish.h"

int main(int argc, char** argv) {
    return tessaryn::runPublish(std::vector<std::string>(argv + 1, argv + argc));
}
