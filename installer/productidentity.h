#ifndef ZARVO_INSTALLER_PRODUCTIDENTITY_H
#define ZARVO_INSTALLER_PRODUCTIDENTITY_H

// The suite's identity: constants of the installer, never read from the
// environment or from disk. Plain ASCII; use as QLatin1String.
struct ProductIdentity
{
    const char *productName;
    const char *iconName;
    const char *bannerName;
    const char *systemInstallPath;
    const char *userInstallSubpath;
    const char *archiveName;
    const char *mainProgramName;
    const char *version;
};

extern const ProductIdentity productIdentity;

#endif
