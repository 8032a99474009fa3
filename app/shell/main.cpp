// ThraskVell: the standalone demo of the effect. No options: it opens its window and plays the
// demo riff through the effect when Play is pressed.
#include "app/shell/ThraskVellApp.h"

int main() {
    return thraskvell::ThraskVellApp::run();
}
