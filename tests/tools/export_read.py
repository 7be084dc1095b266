#!/usr/bin/env python3
"""Reads a submap export with Python's standard XML parser, by the format's
own element names, and prints what it holds as JSON:
  {"title": ..., "nodes": [{"id", "label", "status", "x", "y"}...],
   "edges": [{"id", "source", "target", "label", "status"}...]}
Usage: export_read.py graphml|drawio|svg FILE"""
import json
import sys
import xml.etree.ElementTree as ET

GRAPHML = "{http://graphml.graphdrawing.org/xmlns}"
SVG = "{http://www.w3.org/2000/svg}"


def graphml(root):
    assert root.tag == GRAPHML + "graphml", root.tag
    keys = {k.get("id"): k.get("attr.name") for k in root.findall(GRAPHML + "key")}
    graphs = root.findall(GRAPHML + "graph")
    assert len(graphs) == 1, "one graph"

    def data(e):
        return {keys[d.get("key")]: d.text or "" for d in e.findall(GRAPHML + "data")}

    g = graphs[0]
    nodes = []
    for n in g.findall(GRAPHML + "node"):
        d = data(n)
        nodes.append({"id": n.get("id"), "label": d["label"], "status": d["status"],
                      "x": float(d["x"]), "y": float(d["y"])})
    edges = []
    for e in g.findall(GRAPHML + "edge"):
        d = data(e)
        edges.append({"id": e.get("id"), "source": e.get("source"), "target": e.get("target"),
                      "label": d["label"], "status": d["status"]})
    return {"title": data(g)["title"], "nodes": nodes, "edges": edges}


def drawio(root):
    assert root.tag == "mxfile", root.tag
    diagram = root.find("diagram")
    cells = diagram.find("mxGraphModel").find("root").findall("mxCell")

    def style(c):
        return dict(kv.split("=", 1) for kv in c.get("style", "").split(";") if "=" in kv)

    nodes, edges = [], []
    for c in cells:
        if c.get("vertex") == "1":
            geo = c.find("mxGeometry")
            nodes.append({"id": c.get("id"), "label": c.get("value"), "status": style(c)["mapStatus"],
                          "x": float(geo.get("x")) + float(geo.get("width")) / 2,
                          "y": float(geo.get("y")) + float(geo.get("height")) / 2})
        elif c.get("edge") == "1":
            edges.append({"id": c.get("id"), "source": c.get("source"), "target": c.get("target"),
                          "label": c.get("value"), "status": style(c)["mapStatus"]})
    return {"title": diagram.get("name"), "nodes": nodes, "edges": edges}


def svg(root):
    assert root.tag == SVG + "svg", root.tag

    def label(g):
        t = [t for t in g.findall(SVG + "text") if t.get("class") == "label"]
        return t[0].text or "" if t else ""

    nodes, edges = [], []
    for g in root.iter(SVG + "g"):
        classes = (g.get("class") or "").split()
        if "symbol" in classes:
            shape = next(c for c in g if c.tag in (SVG + "rect", SVG + "ellipse", SVG + "polygon"))
            text = [t for t in g.findall(SVG + "text") if t.get("class") == "label"][0]
            nodes.append({"id": g.get("id"), "label": label(g), "status": g.get("data-status"),
                          "x": float(text.get("x")), "y": float(text.get("y")), "shape": shape.tag[len(SVG):]})
        elif "connection" in classes:
            edges.append({"id": g.get("id"), "source": g.get("data-source"), "target": g.get("data-target"),
                          "label": label(g), "status": g.get("data-status")})
    return {"title": root.find(SVG + "title").text, "nodes": nodes, "edges": edges}


def main():
    fmt, path = sys.argv[1], sys.argv[2]
    root = ET.parse(path).getroot()
    print(json.dumps({"graphml": graphml, "drawio": drawio, "svg": svg}[fmt](root)))


if __name__ == "__main__":
    main()
