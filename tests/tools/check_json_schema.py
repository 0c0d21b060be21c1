# SPDX-License-Identifier: Apache-2.0
"""Checks calib's JSON output against docs/calib-output.schema.json.

usage: check_json_schema.py SCHEMA FILE...

Each FILE holds one JSON document, or JSON Lines (one document per line). Understands the
parts of JSON Schema the schema uses: type, const, enum, minimum, maximum, required,
properties, additionalProperties false, items, prefixItems, minItems, maxItems, oneOf and
local $ref. Exits 1 naming the first document and path that does not match.
"""
import json
import sys

TYPES = {
    "object": lambda v: isinstance(v, dict),
    "array": lambda v: isinstance(v, list),
    "string": lambda v: isinstance(v, str),
    "boolean": lambda v: isinstance(v, bool),
    "null": lambda v: v is None,
    "integer": lambda v: isinstance(v, int) and not isinstance(v, bool),
    "number": lambda v: isinstance(v, (int, float)) and not isinstance(v, bool),
}


def errors(value, schema, root, path):
    """The first mismatch of value against schema, as text, or None."""
    if "$ref" in schema:
        target = root
        for part in schema["$ref"].lstrip("#/").split("/"):
            target = target[part]
        found = errors(value, target, root, path)
        if found:
            return found
    if "oneOf" in schema:
        matches = [s for s in schema["oneOf"] if errors(value, s, root, path) is None]
        if len(matches) != 1:
            reasons = [errors(value, s, root, path) for s in schema["oneOf"]]
            return "%s: matches %d of oneOf (%s)" % (path, len(matches), "; ".join(r for r in reasons if r))
    if "type" in schema and not TYPES[schema["type"]](value):
        return "%s: not of type %s" % (path, schema["type"])
    if "const" in schema and (value != schema["const"] or type(value) is not type(schema["const"])):
        return "%s: not %r" % (path, schema["const"])
    if "enum" in schema and value not in schema["enum"]:
        return "%s: %r not one of %r" % (path, value, schema["enum"])
    if "minimum" in schema and TYPES["number"](value) and value < schema["minimum"]:
        return "%s: below %r" % (path, schema["minimum"])
    if "maximum" in schema and TYPES["number"](value) and value > schema["maximum"]:
        return "%s: above %r" % (path, schema["maximum"])
    if isinstance(value, dict):
        for key in schema.get("required", []):
            if key not in value:
                return "%s: %r missing" % (path, key)
        props = schema.get("properties", {})
        for key, item in value.items():
            if key in props:
                found = errors(item, props[key], root, path + "." + key)
                if found:
                    return found
            elif schema.get("additionalProperties", True) is False:
                return "%s: unexpected %r" % (path, key)
    if isinstance(value, list):
        if len(value) < schema.get("minItems", 0) or len(value) > schema.get("maxItems", len(value)):
            return "%s: %d items" % (path, len(value))
        prefix = schema.get("prefixItems", [])
        for i, item in enumerate(value):
            sub = prefix[i] if i < len(prefix) else schema.get("items")
            found = sub is not None and errors(item, sub, root, "%s[%d]" % (path, i))
            if found:
                return found
    return None


def documents(text):
    try:
        return [json.loads(text)]
    except ValueError:
        return [json.loads(line) for line in text.splitlines() if line.strip()]


def main():
    schema = json.load(open(sys.argv[1]))
    count = 0
    for name in sys.argv[2:]:
        for n, doc in enumerate(documents(open(name).read()), 1):
            found = errors(doc, schema, schema, "$")
            if found:
                print("%s, document %d: %s" % (name, n, found))
                return 1
            count += 1
    print("%d documents match" % count)
    return 0 if count else 1


if __name__ == "__main__":
    sys.exit(main())
