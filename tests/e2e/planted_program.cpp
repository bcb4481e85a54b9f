// Stands in for a system program planted beside the setup or in its working folder (cmd.exe).
#include "planted.h"

int main() {
    recordPlantedRun(nullptr);
    return 0;
}
