"""The project's Python test machinery, one package for every script that
drives Windows programs under Wine (the windowed tests, the journey, the
kill campaign, the window benchmark). Scripts import it from the source
folder (CTest puts that on PYTHONPATH) and take everything about a build
from its test_settings.json, which CMake writes:

    from test_support import settings
    from test_support.checks import check, wait_until
    from test_support.desktop import Desktop
    from test_support.launcher import Launcher, Scene
    from test_support.release_server import ReleaseServer
    from test_support import releases

    build = settings.load(build_dir)
    with Desktop(build.window_prefix(), work) as desktop, \\
            ReleaseServer(build, tree, work / "nginx") as server:
        launcher = Launcher(desktop, build, work / "profile", copy=build.launcher)
        launcher.start()
        window = launcher.wait_for_window()
        window.wait_for(Scene(build).active, "the install offer")

Modules:
  settings        a build's settings: folders, programs, the release
                  server's address, the window's layout and text colours
  checks          Failure, Timeout, check, wait_until
  wine            a Wine prefix run through tools/wine/wine-run.sh (the one
                  place that sets Wine up), Linux paths as Wine sees them
  desktop         a virtual X screen with a window manager, windows,
                  screenshots, pixels
  launcher        the launcher installed in a profile of its own; what a
                  player reads off its window (Scene)
  release_server  nginx serving a release tree (tools/nginx/serve.sh), its
                  request log
  releases        game folders, publishing with the publisher, digests,
                  reading a manifest
  scenarios       the command line shared by the scenario runners
"""
