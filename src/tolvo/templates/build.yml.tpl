name: build

on:
  push:
    branches: [main]
  pull_request:
  workflow_dispatch:

permissions:
  contents: read

jobs:
  build:
    name: 'Test, lint and build {project_name}'
    runs-on: ubuntu-latest
    steps:
      - uses: actions/checkout@v4
      - uses: actions/setup-python@v5
        with:
          python-version: "3.11"
      - name: Install tolvo
        run: python -m pip install tolvo
      - name: Install test requirements
        run: tolvo requirements test
      - name: Test
        run: tolvo test
      - name: Lint
        run: tolvo lint
      - name: Build source distribution and wheel
        run: tolvo build --sdist --wheel
      - uses: actions/upload-artifact@v4
        with:
          name: '{project_name}-dist'
          path: dist/
