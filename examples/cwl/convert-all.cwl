#!/usr/bin/env cwl-runner
# SPDX-License-Identifier: MIT
# Converts a list of IG or FASTA files with quenbrel, one job per file (a
# scatter), all with the same options:
#
#   cwltool examples/cwl/convert-all.cwl examples/cwl/convert-all.yml
#
# Each output is named after its input: the name without a compression
# extension (.gz, .bgz, .zst, .xz, .bz2) and then without a sequence one
# (.ig, .fa, .fasta, .fas, .fna, .txt), followed by `extension` (default
# .fa): reads.ig.gz becomes reads.fa, or reads.fa.gz with extension .fa.gz.
cwlVersion: v1.2
class: Workflow
label: quenbrel over many files
doc: Converts every file of a list into FASTA with quenbrel, one job per file.

requirements:
  ScatterFeatureRequirement: {}
  StepInputExpressionRequirement: {}
  InlineJavascriptRequirement: {}

inputs:
  files:
    type: File[]
    doc: IG or FASTA inputs, plain or compressed. Two of one stem would give one output name.
  extension:
    type: string
    default: .fa
    doc: Appended to each input's stem; .fa.gz or .fa.bgz for BGZF, .fa.zst for zstd.
  line_length: int?
  one_line: boolean?
  upper_case: boolean?
  drop_unsequenced: boolean?
  compress:
    type:
      - "null"
      - type: enum
        symbols: [gzip, zstd, none]
  level: int?
  threads: int?
  index: boolean?
  dict: boolean?

outputs:
  converted:
    type: File[]
    doc: The outputs, in the order of the inputs, each with its index files and dictionary.
    outputSource: convert/converted

steps:
  convert:
    run: quenbrel.cwl
    scatter: input
    in:
      input: files
      # Evaluated after the scatter: inputs.input is this job's file.
      output:
        source: extension
        valueFrom: |-
          ${
            var stem = inputs.input.basename.replace(/\.(gz|bgz|zst|xz|bz2)$/, "");
            return stem.replace(/\.(ig|fa|fasta|fas|fna|txt)$/, "") + self;
          }
      line_length: line_length
      one_line: one_line
      upper_case: upper_case
      drop_unsequenced: drop_unsequenced
      compress: compress
      level: level
      threads: threads
      index: index
      dict: dict
    out: [converted]
