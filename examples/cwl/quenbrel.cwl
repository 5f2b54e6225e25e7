#!/usr/bin/env cwl-runner
# SPDX-License-Identifier: MIT
# quenbrel as a CWL tool: one IG or FASTA file (plain or compressed) in, one
# FASTA file out, with its index files and sequence dictionary when asked for.
#
#   cwltool examples/cwl/quenbrel.cwl --input reads.ig --output reads.fa.gz --index --dict
#
# quenbrel is taken from PATH; the output's name chooses its format, as on the
# command line (NAME.gz and NAME.bgz BGZF, NAME.zst zstd, any other plain).
cwlVersion: v1.2
class: CommandLineTool
label: quenbrel
doc: Converts IG or FASTA (plain, gzip, zstd, xz or bzip2) into FASTA.

requirements:
  # The dictionary's name and the cores asked for are computed.
  InlineJavascriptRequirement: {}
  # A job asks for as many cores as it runs threads, so that a batch system
  # (Toil's slurm, for example) gives it them; without --threads quenbrel
  # runs on every processor it is given.
  ResourceRequirement:
    coresMin: "$(inputs.threads ? inputs.threads : 1)"
hints:
  SoftwareRequirement:
    packages:
      - package: quenbrel

baseCommand: quenbrel

inputs:
  input:
    type: File
    doc: IG or FASTA input, plain or compressed (the content decides, not the name).
    inputBinding: {position: 1}
  output:
    type: string
    doc: >-
      The output file's name (a name, not a path): NAME.gz and NAME.bgz are written as BGZF,
      NAME.zst as zstd, any other name as plain FASTA, unless compress says otherwise.
    inputBinding: {position: 2}
  line_length:
    type: int?
    doc: "-n: residues per output line (default 70; 4 or less mean 70)."
    inputBinding: {prefix: -n}
  one_line:
    type: boolean?
    doc: "-ol: each sequence body on a single line."
    inputBinding: {prefix: -ol}
  upper_case:
    type: boolean?
    doc: "-uc: residues in upper case."
    inputBinding: {prefix: -uc}
  drop_unsequenced:
    type: boolean?
    doc: "-unseq: drop the residues N and n."
    inputBinding: {prefix: -unseq}
  compress:
    type:
      - "null"
      - type: enum
        symbols: [gzip, zstd, none]
    doc: "--compress: gzip (BGZF), zstd or none, whatever the output's name."
    inputBinding: {prefix: --compress=, separate: false}
  level:
    type: int?
    doc: "--level: gzip 0 to 12 (default 1), zstd 1 to 19 (default 3)."
    inputBinding: {prefix: --level=, separate: false}
  threads:
    type: int?
    doc: "--threads: 1 to 256; by default every processor the job may run on."
    inputBinding: {prefix: --threads=, separate: false}
  index:
    type: boolean?
    doc: "--index: also OUTPUT.fai and, for BGZF output, OUTPUT.gzi (not with zstd output)."
    inputBinding: {prefix: --index}
  dict:
    type: boolean?
    doc: "--dict: also the sequence dictionary (ref.fa, ref.fa.gz give ref.dict)."
    inputBinding: {prefix: --dict}

outputs:
  converted:
    type: File
    doc: >-
      The FASTA output, with OUTPUT.fai, OUTPUT.gzi and the dictionary as secondary files
      where they were written. The dictionary's UR: field names the path the job wrote
      the output to, in the runner's working folder.
    outputBinding:
      glob: $(inputs.output)
    secondaryFiles:
      - {pattern: .fai, required: false}
      - {pattern: .gzi, required: false}
      # quenbrel's dictionary name: a reference extension Picard and GATK know
      # (.fasta, .fas, .fa, .fna, .txt, each also with .gz; case matters) is
      # replaced by .dict, any other name gets .dict appended.
      - pattern: |-
          ${
            var m = self.basename.match(/^(.*)\.(fasta|fas|fa|fna|txt)(\.gz)?$/);
            return (m ? m[1] : self.basename) + ".dict";
          }
        required: false

# Every status quenbrel documents besides 0 is a failure that a retry would
# not mend: 3 not IG or FASTA, 4 no content, 10 bad arguments or input,
# 20 output that cannot be written.
successCodes: [0]
permanentFailCodes: [3, 4, 10, 20]
