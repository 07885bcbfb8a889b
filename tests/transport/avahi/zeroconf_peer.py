#!/usr/bin/python3
"""An independent mDNS/DNS-SD stack (python3-zeroconf) for the discovery tests.

browse TYPE ADDRESS COUNT TIMEOUT
    Prints one JSON list of the instances of TYPE seen on ADDRESS (name, port,
    addresses, txt) once COUNT are resolved or TIMEOUT seconds have passed.
publish TYPE ADDRESS NAME PORT KEY=VALUE...
    Advertises one instance, prints "published", and withdraws it (with the
    goodbye packets) when standard input closes.
"""
import json
import sys
import time

from zeroconf import IPVersion, ServiceBrowser, ServiceInfo, ServiceStateChange, Zeroconf


def browse(type_, address, count, timeout):
    zc = Zeroconf(interfaces=[address], ip_version=IPVersion.V4Only)
    names = set()

    def on_change(zeroconf, service_type, name, state_change):
        if state_change in (ServiceStateChange.Added, ServiceStateChange.Updated):
            names.add(name)

    ServiceBrowser(zc, type_, handlers=[on_change])
    resolved = {}
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and len(resolved) < count:
        for name in sorted(names - resolved.keys()):
            info = zc.get_service_info(type_, name, timeout=1000)
            if info and info.port:
                resolved[name] = {
                    "name": name,
                    "port": info.port,
                    "addresses": info.parsed_addresses(),
                    "txt": {k.decode(): (v or b"").decode() for k, v in info.properties.items()},
                }
        time.sleep(0.1)
    print(json.dumps(list(resolved.values())), flush=True)
    zc.close()


def publish(type_, address, name, port, pairs):
    zc = Zeroconf(interfaces=[address], ip_version=IPVersion.V4Only)
    properties = dict(pair.split("=", 1) for pair in pairs)
    info = ServiceInfo(type_, f"{name}.{type_}", port=port, properties=properties,
                       server="zeroconf-peer.local.", parsed_addresses=[address])
    zc.register_service(info)
    print("published", flush=True)
    sys.stdin.read()
    zc.unregister_service(info)
    zc.close()


if __name__ == "__main__":
    mode = sys.argv[1]
    if mode == "browse":
        browse(sys.argv[2], sys.argv[3], int(sys.argv[4]), float(sys.argv[5]))
    elif mode == "publish":
        publish(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]), sys.argv[6:])
    else:
        sys.exit(f"unknown mode {mode}")
