#include "installer/desktop/fileassociation.h"

void installFileAssociation(Installer &)
{
}
