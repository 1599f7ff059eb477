// The numbers of the launcher's resources, read by the resource scripts
// (windres runs them through the C preprocessor) and by the code that loads
// them. Plain macros, as a resource script understands nothing else.
#pragma once

// The window class's icon; as the first icon group also the executable's
// icon in the shell.
#define STONEWAKE_ICON_RESOURCE 1

// Pictures and fonts the painter loads as raw RT_RCDATA bytes.
#define STONEWAKE_BACKDROP_RESOURCE 101
#define STONEWAKE_STRIP_RESOURCE 102
#define STONEWAKE_WISP_RESOURCE 103
#define STONEWAKE_GELASIO_REGULAR_RESOURCE 104
#define STONEWAKE_GELASIO_BOLD_RESOURCE 105

// What the build trusts, the release key and server (core/release_trust.h),
// as raw RT_RCDATA text: the publisher reads it back from a launcher before
// a release carries it to every player. The publisher knows this number as
// launcher::kReleaseTrustResource.
#define STONEWAKE_RELEASE_TRUST_RESOURCE 106
