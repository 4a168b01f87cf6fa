#!/usr/bin/python3
"""The fleet collection's filters over a scenario's real events.

    fleet_query_test.py EVENTS_TSV SUBSCRIPTION REPORT EVENTS_XML DATA_COLLECTION_RULE

Renders every event of the test host's EVENTS_TSV as Windows writes an event in its event schema
(Event/System/Provider/@Name, EventID with its Qualifiers, Level, TimeCreated, EventData/Data
per insertion string) into EVENTS_XML, then checks that the XPath of the Windows Event Forwarding subscription
SUBSCRIPTION selects exactly the outcome events, and that the report script REPORT filters with
the same XPath, and that the Azure Monitor agent's DATA_COLLECTION_RULE collects from the
Application log with an XPath that selects exactly the outcome events too. Windows evaluates an event query's XPath without namespaces, so the events are
matched with their namespace taken off. Exit status 0 when all holds; each failure is printed.
Uses Debian's python3 with python3-lxml.
"""

import datetime
import json
import re
import sys

from lxml import etree

EVENT_NS = "http://schemas.microsoft.com/win/2004/08/events/event"
SUBSCRIPTION_NS = "http://schemas.microsoft.com/2006/03/windows/events/subscription"
# The Level a classic event's type gets: error 2, warning 3, information 4; success 0.
LEVELS = {"0": "0", "1": "2", "2": "3", "4": "4"}


def unescape(text):
    escapes = {"t": "\t", "n": "\n", "r": "\r"}
    return re.sub(r"\\(.)", lambda m: escapes.get(m.group(1), m.group(1)), text)


def render(number, fields):
    source, full_id, event_type = fields[0], int(fields[1]), fields[2]
    event = etree.Element(f"{{{EVENT_NS}}}Event", nsmap={None: EVENT_NS})
    system = etree.SubElement(event, f"{{{EVENT_NS}}}System")
    etree.SubElement(system, f"{{{EVENT_NS}}}Provider", Name=source)
    event_id = etree.SubElement(system, f"{{{EVENT_NS}}}EventID", Qualifiers=str(full_id >> 16))
    event_id.text = str(full_id & 0xFFFF)
    etree.SubElement(system, f"{{{EVENT_NS}}}Level").text = LEVELS[event_type]
    # The test host records no times: the events are a second apart, in their order.
    created = datetime.datetime(2026, 12, 1, 9, 0) + datetime.timedelta(seconds=number)
    etree.SubElement(system, f"{{{EVENT_NS}}}TimeCreated",
                     SystemTime=created.strftime("%Y-%m-%dT%H:%M:%S.0000000Z"))
    etree.SubElement(system, f"{{{EVENT_NS}}}Task").text = "0"
    etree.SubElement(system, f"{{{EVENT_NS}}}Keywords").text = "0x80000000000000"
    etree.SubElement(system, f"{{{EVENT_NS}}}EventRecordID").text = str(number)
    etree.SubElement(system, f"{{{EVENT_NS}}}Channel").text = "Application"
    etree.SubElement(system, f"{{{EVENT_NS}}}Computer").text = "PC-0001.fleet.example"
    data = etree.SubElement(event, f"{{{EVENT_NS}}}EventData")
    for text in fields[3:]:
        etree.SubElement(data, f"{{{EVENT_NS}}}Data").text = unescape(text)
    return event


def without_namespace(event):
    copy = etree.fromstring(etree.tostring(event))
    for element in copy.iter():
        element.tag = etree.QName(element).localname
    etree.cleanup_namespaces(copy)
    return copy


def main(argv):
    if len(argv) != 6:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    events_tsv, subscription, report, events_xml = argv[1:5]
    problems = []
    queries = {}  # what selects the outcome events: name -> XPath

    query = etree.parse(subscription).find(f"{{{SUBSCRIPTION_NS}}}Query").text
    select = etree.fromstring(query).find("Query/Select")
    xpath = select.text.strip()
    if select.get("Path") != "Application":
        problems.append(f"the subscription selects from {select.get('Path')}, not Application")
    with open(report, encoding="utf-8") as file:
        filters = re.findall(r'-FilterXPath "([^"]+)"', file.read())
    if filters != [xpath]:
        problems.append(f"the report filters with {filters}, the subscription with {xpath!r}")
    queries["the subscription"] = xpath
    with open(argv[5], encoding="utf-8") as file:
        rule = json.load(file)
    for source in rule["properties"]["dataSources"]["windowsEventLogs"]:
        for number, query in enumerate(source["xPathQueries"], 1):
            channel, _, path = query.partition("!")
            if channel != "Application":
                problems.append(f"the collection rule's query {number} reads {channel!r}")
            queries[f"the collection rule's query {number}"] = path
    if len(queries) != 2:
        problems.append(f"the collection rule has {len(queries) - 1} queries, not one")

    with open(events_tsv, encoding="utf-8") as file:
        lines = [line.rstrip("\n").split("\t") for line in file if line.strip()]
    events = [render(number, fields) for number, fields in enumerate(lines, 1)]
    root = etree.Element(f"{{{EVENT_NS}}}Events", nsmap={None: EVENT_NS})
    root.extend(events)
    etree.ElementTree(root).write(events_xml, pretty_print=True, xml_declaration=True,
                                  encoding="utf-8")

    outcome = [fields[0] == "OrvaleUpgradeOutcome" for fields in lines]
    if not any(outcome):
        problems.append("the events hold no outcome event")
    for name, path in queries.items():
        selected = [bool(etree.ElementTree(without_namespace(e)).xpath("/" + path))
                    for e in events]
        for fields, chosen, wanted in zip(lines, selected, outcome):
            if chosen != wanted:
                problems.append(f"{name} " + ("selects" if chosen else "misses") + " " +
                                "\t".join(fields[:4]))
    for fields in (f for f, wanted in zip(lines, outcome) if wanted):
        if len(fields) != 8:
            problems.append("an outcome event without its five strings: " + "\t".join(fields))
    print(f"{len(queries)} queries over {len(events)} events, {sum(outcome)} of them outcomes")
    for problem in problems:
        print("  " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
