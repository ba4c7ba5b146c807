#!/usr/bin/env python3
"""HTTP transfer benchmark: zuadm http against curl, side by side in the
same run, on loopback.

  download over http   1 GiB (a sparse file) from nginx, -o /dev/null
                                                        (goal: >= 0.9x curl)
  download over https  the same with TLS                (goal: >= 0.8x curl)
  upload               a 256 MiB multipart file (-F f=@FILE) to the upload
                       server of the tests               (goal: >= 0.8x curl;
                       zuadm's peak resident memory under 16 MiB)

Each case runs --runs times, zuadm and curl alternating; the medians are
printed with the ratio (curl's time / zuadm's time: the share of curl's
throughput that zuadm reaches). Needs nginx, curl, openssl and python3-
werkzeug (scripts/deps.sh installs them) and a release build of zuadm.

Usage: bench/http_transfer.py [--zuadm PATH] [--runs N] [--download-mib N]
                              [--upload-mib N] [--only TEXT]
"""
import argparse
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, process, seconds=10):
    end = time.monotonic() + seconds
    while time.monotonic() < end and process.poll() is None:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def start_nginx(work, http_port, https_port):
    www = os.path.join(work, "www")
    temp = os.path.join(work, "temp")
    os.makedirs(temp)
    conf = os.path.join(work, "nginx.conf")
    log = os.path.join(work, "nginx.log")
    with open(conf, "w") as f:
        f.write(
            f"""daemon off; master_process off; worker_processes 1;
error_log {log} error; pid {work}/nginx.pid;
events {{ worker_connections 64; }}
http {{
  access_log off; sendfile on; default_type application/octet-stream;
  client_body_temp_path {temp}; proxy_temp_path {temp}; fastcgi_temp_path {temp};
  uwsgi_temp_path {temp}; scgi_temp_path {temp};
  server {{ listen 127.0.0.1:{http_port}; root {www}; }}
  server {{ listen 127.0.0.1:{https_port} ssl; root {www};
           ssl_certificate {work}/cert.pem; ssl_certificate_key {work}/key.pem; }}
}}
"""
        )
    process = subprocess.Popen(["nginx", "-p", work, "-c", conf, "-e", log])
    if not (wait_for_port(http_port, process) and wait_for_port(https_port, process)):
        sys.exit("nginx did not start; see " + log)
    return process


def start_upload_server(work):
    script = os.path.join(ROOT, "tests", "support", "http_upload_server.py")
    port = free_port()
    log = open(os.path.join(work, "upload.log"), "w")
    process = subprocess.Popen(["/usr/bin/python3", script, str(port)], stdout=log, stderr=log)
    if not wait_for_port(port, process):
        sys.exit("the upload server did not start")
    return process, port


def peak_rss_kib(pid):
    """The process's resident high-water mark so far, in KiB (0 when gone)."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def run_measured(command, output_check=None):
    """Seconds and peak resident KiB of one run of command. The peak is
    polled every 10 ms (the rusage of a child counts its parent's memory
    from before the exec)."""
    start = time.perf_counter()
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen(command, stdout=out, stderr=err)
        peak = 0
        while process.poll() is None:
            peak = max(peak, peak_rss_kib(process.pid))
            time.sleep(0.01)
        seconds = time.perf_counter() - start
        out.seek(0)
        err.seek(0)
        output, errors = out.read(), err.read()
    if process.returncode != 0:
        sys.exit(f"{command[0]} failed ({process.returncode}): {errors.decode(errors='replace')}")
    if output_check and not output_check(output):
        sys.exit(f"{command[0]} answered unexpectedly: {output[:300]!r}")
    return seconds, peak


def main():
    arguments = argparse.ArgumentParser()
    arguments.add_argument("--zuadm", default=os.path.join(ROOT, "build/release/tools/zuadm/zuadm"))
    arguments.add_argument("--runs", type=int, default=3)
    arguments.add_argument("--download-mib", type=int, default=1024)
    arguments.add_argument("--upload-mib", type=int, default=256)
    arguments.add_argument("--only", default="", help="run the cases whose name holds this text")
    options = arguments.parse_args()

    with tempfile.TemporaryDirectory(prefix="zu-http-bench-") as work:
        os.environ["ZU_WIN32_ROOT"] = os.path.join(work, "win32")
        os.makedirs(os.path.join(work, "www"))
        download = os.path.join(work, "www", "download.bin")
        with open(download, "wb") as f:
            f.truncate(options.download_mib << 20)
        upload = os.path.join(work, "upload.bin")
        with open(upload, "wb") as f:
            chunk = os.urandom(1 << 20)
            for _ in range(options.upload_mib):
                f.write(chunk)
        subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
             "-subj", "/CN=127.0.0.1", "-keyout", os.path.join(work, "key.pem"),
             "-out", os.path.join(work, "cert.pem")],
            check=True, capture_output=True)
        http_port, https_port = free_port(), free_port()
        nginx = start_nginx(work, http_port, https_port)
        server, upload_port = start_upload_server(work)
        size = f"\t{options.upload_mib << 20}\t".encode()
        uploaded = lambda out: b"\nfile\tf\t" in out and size in out and b"closed\t1\n" in out
        cases = [
            ("download http", options.download_mib, 0.9,
             [options.zuadm, "http", "-o", "/dev/null", f"http://127.0.0.1:{http_port}/download.bin"],
             ["curl", "-s", "-o", "/dev/null", f"http://127.0.0.1:{http_port}/download.bin"], None),
            ("download https", options.download_mib, 0.8,
             [options.zuadm, "http", "-k", "-o", "/dev/null",
              f"https://127.0.0.1:{https_port}/download.bin"],
             ["curl", "-s", "-k", "-o", "/dev/null", f"https://127.0.0.1:{https_port}/download.bin"],
             None),
            ("upload multipart", options.upload_mib, 0.8,
             [options.zuadm, "http", "-F", f"f=@{upload}", f"http://127.0.0.1:{upload_port}/up"],
             ["curl", "-s", "-F", f"f=@{upload}", f"http://127.0.0.1:{upload_port}/up"], uploaded),
        ]
        try:
            print(f"{'case':18} {'zuadm s':>9} {'curl s':>9} {'zuadm MiB/s':>12} "
                  f"{'curl MiB/s':>11} {'ratio':>6} {'goal':>5} {'zuadm peak RSS':>15}")
            for name, mib, goal, zu_command, curl_command, check in cases:
                if options.only not in name:
                    continue
                zu_times, curl_times, peaks = [], [], []
                for _ in range(options.runs):
                    seconds, peak = run_measured(zu_command, check)
                    zu_times.append(seconds)
                    peaks.append(peak)
                    curl_times.append(run_measured(curl_command, check)[0])
                zu, curl = statistics.median(zu_times), statistics.median(curl_times)
                print(f"{name:18} {zu:9.3f} {curl:9.3f} {mib / zu:12.1f} {mib / curl:11.1f} "
                      f"{curl / zu:5.2f}x {goal:4.1f}x {max(peaks) / 1024:11.1f} MiB", flush=True)
        finally:
            for process in (nginx, server):
                process.terminate()
                process.wait(timeout=10)


if __name__ == "__main__":
    main()
