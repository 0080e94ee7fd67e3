// vertexshadows-import: the child process in which vertexshadows imports a scene file
// (see ContainedImport.h). Not meant to be run by hand.
#include "import/ContainedImport.h"

int main(int argc, char** argv)
{
    return RunImportChild(argc, argv);
}
