#!/usr/bin/env python3
"""calendar-server.exe as a Windows service under Wine, and the installer's silent install and uninstall.

Run by test-windows.sh inside its Wine prefix and Wine server (WINEPREFIX set):
    tools/windows/test-service.py SERVER_EXE [SETUP_EXE ZRKHOST_EXE]

The service: refused without registering anything on a port in use and on a database folder that cannot be
written; installed, answering /apiv1/location, refusing a second install; killed during writes, every answered
write is in its database afterwards; stopped (timed) and uninstalled, its database kept. The installer: /S puts
the DLL where /PLUGIN64 asks and the service answers on /PORT; an upgrade while a host (zrkhost.exe) has the
DLL loaded is refused with nothing changed; its uninstaller removes the files and the service and keeps the
database. Every Wine call and every wait is bounded; the whole takes about a minute.
"""
import json
import os
import select
import socket
import subprocess
import sys
import threading
import time
import urllib.request

SERVICE = "VeltranoCalendar"
PREFIX = os.environ["WINEPREFIX"]
DATA = os.path.join(PREFIX, "drive_c", "ProgramData", SERVICE)
# Loopback only: no proxy from the environment.
DIRECT = urllib.request.build_opener(urllib.request.ProxyHandler({}))


def fail(message):
    print("test-service: FAILED: " + message, file=sys.stderr)
    sys.exit(1)


def wine(*args, timeout=90):
    result = subprocess.run(["wine", *args], capture_output=True, text=True, timeout=timeout)
    return result.returncode, result.stdout + result.stderr


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def request(port, path, body=None, timeout=5):
    data = json.dumps(body).encode() if body is not None else None
    req = urllib.request.Request("http://127.0.0.1:%d%s" % (port, path), data=data,
                                 headers={"Content-Type": "application/json"})
    with DIRECT.open(req, timeout=timeout) as answer:
        return answer.status, json.loads(answer.read() or b"null")


def answers(port, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            if request(port, "/apiv1/location", timeout=2)[0] == 200:
                return True
        except OSError:
            time.sleep(0.2)
    return False


def registered():
    code, _ = wine("sc", "query", SERVICE, timeout=30)
    return code == 0


def expect_refused(args, code, text, what):
    got, output = wine(*args)
    if got != code or text not in output:
        fail("%s: expected exit %d with %r, got %d: %s" % (what, code, text, got, output))
    if registered():
        fail(what + ": a service was registered anyway")
    print("ok: " + what + ": " + output.strip().splitlines()[0])


def service_pid():
    with open(os.path.join(DATA, "calendar-server.log"), errors="replace") as log:
        lines = [l for l in log if " as process " in l]
    return lines[-1].rsplit(" ", 1)[1].strip() if lines else None


def log_tail(lines=5):
    try:
        with open(os.path.join(DATA, "calendar-server.log"), errors="replace") as log:
            return " | ".join(l.strip() for l in log.readlines()[-lines:])
    except OSError as e:
        return "(no log: %s)" % e


def test_service(exe, work):
    wine(exe, "service", "uninstall")  # one left by an interrupted run
    subprocess.run(["rm", "-rf", DATA], check=True)

    with socket.socket() as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        expect_refused([exe, "service", "install", "--port", str(taken.getsockname()[1])], 1,
                       "cannot listen", "a port in use")
    expect_refused([exe, "service", "install", "--port", str(free_port()), "--db",
                    "Z:\\proc\\veltrano\\calendar.db"], 1, "cannot write", "a database folder that cannot be written")

    data = os.path.join(work, "seed.json")
    with open(data, "w") as f:
        json.dump({"locations": [{"location_id": 3, "name": "Stage"}]}, f)
    port = free_port()
    code, output = wine(exe, "service", "install", "--port", str(port), "--data", windows_path(data))
    if code != 0:
        fail("service install: %d: %s" % (code, output))
    print("ok: installed: " + " | ".join(output.strip().splitlines()))
    # Wine's service manager has no recovery actions, and the install says so: no waiting for them then.
    recovers = "does not take the restarts" not in output
    # Under Wine the first connection to the new service was once reset unanswered (the service went on
    # serving): it must answer within seconds, and then say what it serves.
    if not answers(port, 10):
        fail("the installed service does not answer on %d; its log ends: %s" % (port, log_tail()))
    status, locations = request(port, "/apiv1/location")
    if status != 200 or "Stage" not in json.dumps(locations):
        fail("/apiv1/location answered %d %s" % (status, locations))
    print("ok: /apiv1/location answers from the service")
    expect_refused_running = wine(exe, "service", "install", "--port", str(free_port()))
    if expect_refused_running[0] != 4 or not answers(port, 2):
        fail("a second install: %d %s" % expect_refused_running)
    print("ok: a second install is refused and the service still answers")

    # Writes go on while the service process is killed; each one answered must be in the database.
    answered, stop = [], threading.Event()

    def writer():
        i = 0
        while not stop.is_set():
            try:
                status, body = request(port, "/apiv1/variable",
                                       {"location_id": 3, "var_type": 2, "name": "v%d" % i}, timeout=2)
                if status == 201:
                    answered.append(body["variable_id"])
            except (OSError, ValueError):
                time.sleep(0.05)
            i += 1

    thread = threading.Thread(target=writer)
    thread.start()
    end = time.monotonic() + 20
    while len(answered) < 20 and time.monotonic() < end:
        time.sleep(0.05)
    pid = service_pid()
    if not pid:
        fail("the service log names no process")
    wine("taskkill", "/F", "/PID", pid)
    killed_at = len(answered)
    time.sleep(1)
    stop.set()
    thread.join()
    if killed_at < 20:
        fail("only %d writes answered before the kill" % killed_at)
    restarted = recovers and answers(port, 15)
    how = "restarted by its recovery actions"
    if not restarted:
        # The service manager learns of the killed process on its own time; a start before it has marked
        # the service stopped is refused as one already running.
        def stopped(seconds):
            deadline = time.monotonic() + seconds
            while time.monotonic() < deadline:
                _, output = wine("sc", "query", SERVICE, timeout=30)
                if "STOPPED" in output:
                    return True
                time.sleep(0.2)
            return False
        # Wine's service manager has once kept a killed service RUNNING for good: a stop request, which
        # finds no process to answer it, then marks it stopped.
        if not stopped(5):
            wine("sc", "stop", SERVICE)
            stopped(20)
        wine("sc", "start", SERVICE)
        how = "started again by hand (Wine did not run the recovery actions)"
        if not answers(port, 20):
            _, output = wine("sc", "query", SERVICE, timeout=30)
            fail("the service did not come back after the kill: %s; its log ends: %s" %
                 (" ".join(output.split()), log_tail()))
    status, body = request(port, "/apiv1/variable?locationid=3")
    stored = [v["variable_id"] for v in body["variables"]]
    missing = sorted(set(answered) - set(stored))
    if missing:
        fail("answered writes lost at the kill: %s" % missing)
    print("ok: killed after %d answered writes, %s; all %d answered writes are there" %
          (killed_at, how, len(answered)))

    started = time.monotonic()
    wine("sc", "stop", SERVICE)
    while time.monotonic() - started < 10:
        code, output = wine("sc", "query", SERVICE)
        if "STOPPED" in output:
            break
        time.sleep(0.1)
    print("ok: stopped in %.1f s (the sc calls included)" % (time.monotonic() - started))
    code, output = wine(exe, "service", "uninstall")
    if code != 0 or registered():
        fail("service uninstall: %d %s" % (code, output))
    if not os.path.exists(os.path.join(DATA, "calendar.db")):
        fail("the database went with the service")
    print("ok: uninstalled, the database kept")


def test_installer(setup, zrkhost):
    plugins = os.path.join(PREFIX, "drive_c", "host", "plugins")
    program = os.path.join(PREFIX, "drive_c", "Program Files", "Veltrano Calendar")
    port = free_port()
    subprocess.run(["rm", "-rf", DATA], check=True)  # the database found at the end is this install's
    code, output = wine(setup, "/S", "/PLUGIN64=C:\\host\\plugins", "/PORT=%d" % port, timeout=120)
    if code != 0:
        fail("silent install: %d %s" % (code, output))
    if not os.path.exists(os.path.join(plugins, "VeltranoCalendar.dll")):
        fail("the DLL is not in the plug-in folder asked for")
    if not answers(port, 20):
        fail("the installed service does not answer on port %d" % port)
    print("ok: silent install: the DLL in C:\\host\\plugins, the service answering on %d" % port)
    # An upgrade while the host has the DLL loaded: refused before anything changed, the service untouched.
    host = subprocess.Popen(["wine", zrkhost, "--plugin", "C:\\host\\plugins\\VeltranoCalendar.dll", "--server",
                             "http://127.0.0.1:1", "--location", "1", "--refresh", "1", "--lookahead", "1"],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        ready, _, _ = select.select([host.stdout], [], [], 30)
        if not ready or "GetZRKEntryPoint" not in host.stdout.readline():
            fail("zrkhost.exe did not load the DLL")
        code, output = wine(setup, "/S", "/PORT=%d" % free_port(), timeout=120)
        if code == 0:
            fail("an upgrade while the host has the DLL loaded reported success")
        if not answers(port, 2):
            fail("the refused upgrade changed the service")
        print("ok: an upgrade while the host has the DLL loaded is refused (exit %d), the service untouched" % code)
    finally:
        try:
            host.communicate("quit\n", timeout=30)
        except subprocess.TimeoutExpired:
            host.kill()
            host.wait()
    # The uninstaller copies itself away and returns at once: its work is waited for.
    wine(os.path.join(program, "uninstall.exe"), "/S", timeout=60)
    end = time.monotonic() + 60
    while time.monotonic() < end and (os.path.exists(os.path.join(program, "calendar-server.exe")) or
                                      os.path.exists(os.path.join(plugins, "VeltranoCalendar.dll")) or
                                      registered()):
        time.sleep(0.5)
    for path in (os.path.join(program, "calendar-server.exe"), os.path.join(plugins, "VeltranoCalendar.dll")):
        if os.path.exists(path):
            fail("left after the uninstall: " + path)
    if registered():
        fail("the service is still registered after the uninstall")
    if not os.path.exists(os.path.join(DATA, "calendar.db")):
        fail("the uninstall removed the database")
    print("ok: uninstalled: program files, DLL and service gone, the database kept")


def main():
    exe = sys.argv[1]
    work = os.path.join(PREFIX, "..", "service-test")
    os.makedirs(work, exist_ok=True)
    started = time.monotonic()
    # Wine ends its service manager with the last program of the session: once the killed service was the
    # only one, the next Wine call started a new manager that started the service again and ended with that
    # call, again and again, and the service never answered. Windows keeps its service manager running; a
    # program waiting at its input for the whole test does so here.
    session = subprocess.Popen(["wine", "cmd"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        test_service(exe, work)
        if len(sys.argv) > 3:
            test_installer(sys.argv[2], sys.argv[3])
    finally:
        session.stdin.close()
        try:
            session.wait(timeout=30)
        except subprocess.TimeoutExpired:
            session.kill()
    print("service and installer tests took %.0f s" % (time.monotonic() - started))


if __name__ == "__main__":
    main()
