// Quillora, the scanning application.
#include "QuilloraApp.h"

int main(int argc, char** argv) { return quillora::run(argc, argv); }
