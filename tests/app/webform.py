#!/usr/bin/env python3
"""A web form as a browser fills it in, for the printer application tests.

  webform.py show URL            prints NAME=VALUE lines a browser would send
                                 for the page's first form left unchanged
  webform.py post URL [N=V ...]  sends that form (with the given fields
                                 changed) to its action; prints the HTTP status
  webform.py selects URL         prints NAME: option values, '*' marking the
                                 one a browser shows (the selected one, else
                                 the first)
"""
import html.parser
import sys
import urllib.parse
import urllib.request


class Form(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.depth = 0  # inside the first form
        self.done = False
        self.action = None
        self.fields = []  # [name, value] in document order
        self.selects = {}  # name -> [(value, selected)]
        self.select = None
        self.option = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if self.done:
            return
        if tag == "form":
            self.depth += 1
            if self.action is None:
                self.action = a.get("action", "")
            return
        if not self.depth:
            return
        if tag == "input" and "name" in a and "disabled" not in a:
            kind = a.get("type", "text").lower()
            if kind in ("radio", "checkbox"):
                if "checked" in a:
                    self.fields.append([a["name"], a.get("value", "on")])
            elif kind not in ("submit", "button", "reset", "file", "image"):
                self.fields.append([a["name"], a.get("value", "")])
        elif tag == "select" and "name" in a and "disabled" not in a:
            self.select = a["name"]
            self.selects[self.select] = []
            self.fields.append([self.select, None])
        elif tag == "option" and self.select is not None:
            self.option = [a.get("value"), "selected" in a, ""]
            self.selects[self.select].append(self.option)
        elif tag == "textarea" and "name" in a:
            self.fields.append([a["name"], ""])

    def handle_data(self, data):
        if self.option is not None:
            self.option[2] += data

    def handle_endtag(self, tag):
        if tag == "option":
            self.option = None
        elif tag == "select":
            self.select = None
        elif tag == "form" and self.depth:
            self.depth -= 1
            self.done = self.depth == 0

    def shown(self, name):
        options = self.selects[name]
        for value, selected, text in options:
            if selected:
                return value if value is not None else text.strip()
        if options:
            value, _, text = options[0]
            return value if value is not None else text.strip()
        return None

    def values(self):
        out = []
        for name, value in self.fields:
            if value is None:
                value = self.shown(name)
                if value is None:
                    continue
            out.append((name, value))
        return out


def load(url):
    with urllib.request.urlopen(url, timeout=20) as r:
        form = Form()
        form.feed(r.read().decode("utf-8", "replace"))
        return form


def main():
    cmd, url = sys.argv[1], sys.argv[2]
    form = load(url)
    if cmd == "show":
        for name, value in form.values():
            print(f"{name}={value}")
    elif cmd == "selects":
        for name, options in form.selects.items():
            shown = form.shown(name)
            marks = [("*" if v == shown else "") + str(v) for v, _, _ in options]
            print(f"{name}: {' '.join(marks)}")
    elif cmd == "post":
        values = form.values()
        for change in sys.argv[3:]:
            name, value = change.split("=", 1)
            values = [(n, value if n == name else v) for n, v in values]
        target = urllib.parse.urljoin(url, form.action or url)
        body = urllib.parse.urlencode(values).encode()
        req = urllib.request.Request(target, data=body)
        try:
            with urllib.request.urlopen(req, timeout=20) as r:
                print(r.status)
        except urllib.error.HTTPError as e:
            print(e.code)
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main()
