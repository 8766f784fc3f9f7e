#!/usr/bin/env python3
"""Reads an SMS backup with xml.etree.ElementTree.iterparse, as a peer for
bench/xml_backup_bench.cc: every "sms" element's address, date, type, body
and read attributes are taken, then the element is cleared.

  xml_backup_iterparse.py BACKUP.xml
prints "seconds messages peak_rss_kb" on one line.
"""
import resource
import sys
import time
import xml.etree.ElementTree as ElementTree


def main():
    path = sys.argv[1]
    start = time.perf_counter()
    messages = 0
    root = None
    for event, element in ElementTree.iterparse(path, events=("start", "end")):
        if event == "start":
            if root is None:
                root = element
            continue
        if element.tag == "sms":
            fields = (element.get("address"), element.get("date"),
                      element.get("type"), element.get("body"),
                      element.get("read"))
            if fields[0] is not None:
                messages += 1
            element.clear()
            root.clear()
    seconds = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(f"{seconds:.4f} {messages} {peak}")


if __name__ == "__main__":
    main()
