#include "installer/productidentity.h"

const ProductIdentity productIdentity = {
    "Corvane Zarvo",
    "corvane-zarvo",
    "banner-zarvo",
    "/opt/corvane/zarvo/25.1.3",
    "corvane/zarvo/25.1.3",
    "zarvo.tgz",
    "zarvo.bin",
    "25.1.3",
};
