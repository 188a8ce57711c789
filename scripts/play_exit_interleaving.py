# gdb script: forces, in one run of `talven77-tool play`, the interleaving at
# process exit in which the sound-server client's event thread dispatches a
# server message while the main thread disconnects that same connection.
#
#   source scripts/packages.sh; start_test_audio_server
#   gdb -q -batch -ex "file build/tools/talven77-tool" \
#       -ex "set args play RECORDING --to 1" -x scripts/play_exit_interleaving.py
#
# It stops the main thread when it disconnects a sound-server connection and
# prints every thread's stack; then, with only the event thread running, has
# the server announce a sink change (pactl) and lets that thread enter the
# dispatcher; then lets the main thread finish the disconnect, which releases
# the dispatcher the event thread is about to use. With freed memory filled
# (ASAN_OPTIONS=max_free_fill_size=4096:free_fill_byte=0 on the sanitizer
# build) the event thread then reads the released dispatcher ("Received
# unsupported command"). When the process ends without the libraries' exit-time
# teardown, no connection is disconnected at exit and the script says so.
# On the normal build, GLIBC_TUNABLES=glibc.malloc.tcache_count=0 with
# MALLOC_PERTURB_=165 makes the released dispatcher fault at once.
import subprocess

import gdb


def run(command):
    gdb.execute(command)


run("set pagination off")
run("set confirm off")
run("set breakpoint pending on")
run("set print thread-events off")
run("break pa_context_disconnect")
run("run")
if not gdb.selected_inferior().threads():
    print("=== no sound-server connection was disconnected before the process ended ===")
    raise SystemExit
print("=== main thread disconnecting a connection; all threads ===")
run("info threads")
run("thread apply all bt")
loops = [t for t in gdb.selected_inferior().threads() if t.name == "threaded-ml"]
main = gdb.selected_thread()
run("set scheduler-locking on")
run("break pa_pdispatch_run")
subprocess.run(["pactl", "set-sink-volume", "@DEFAULT_SINK@", "93%"], check=False)
# The connection disconnected first is the sink's, whose event thread was
# started last; it is the one subscribed to sink changes.
loop = loops[-1]
loop.switch()
run("continue")
print("=== event thread entering the dispatcher while the main thread is in the disconnect ===")
run("bt")
main.switch()
run("delete")
run("finish")
print("=== main thread back from the disconnect ===")
run("bt 3")
loop.switch()
run("set scheduler-locking off")
run("continue")
if gdb.selected_inferior().threads():
    print("=== the process stopped after the event thread went on; all threads ===")
    run("thread apply all bt")
