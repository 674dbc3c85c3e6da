#include "shell/ui/CTarvoApp.h"

int main(int argc, char** argv) {
    return tarvo::CTarvoApp().run(argc, argv);
}
