"""The harness of every test and benchmark that drives a real display: processes, X, Wayland
and Wine sessions, receiver logs and the burst's expected figures. Tests import it as
`harness` with tests/ on PYTHONPATH (CTest and bench/run.sh set it).

    process   Child, a process ended with its whole group; LineLog; SessionError
    figures   the burst's figures, read from the controller's constants
    receiver  receivers and their logs; Burst, its checks and summary
    session   the base of every session: its children, environment, readiness and end
    xsession  a private Xvfb with openbox; the program's window and its Start button
    wayland   private headless Wayland compositors (sway, weston, KWin, mutter), a subclass each
    wine      the Wine prefix and server
    cases     the command line shared by the test scripts
"""
